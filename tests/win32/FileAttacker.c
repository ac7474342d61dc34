/* A program of the same user as the wizard, run beside it by the tests: it
 * rewrites the first bytes of every file it can open for writing that
 * matches one of its patterns, over and over, until a stop file appears.
 *
 *   file_attacker <pause ms> <stop file> <count file> <pattern>...
 *
 * A pattern is a folder and a file-name pattern ("C:\Pravion\*.nou*"). The
 * count file gets the number of files rewritten per pattern, one a line. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define MAX_PATTERNS 8

static int Rewrite(const char* path)
{
    static const char bytes[] = "MZ rescris de un alt program";
    DWORD put = 0;
    HANDLE file;
    /* Its read-only attribute first, as any program of the user may. */
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    WriteFile(file, bytes, sizeof bytes - 1, &put, NULL);
    CloseHandle(file);
    return put == sizeof bytes - 1;
}

int main(int argc, char** argv)
{
    long counts[MAX_PATTERNS] = {0};
    int patterns = argc - 4;
    DWORD pause;
    int i;
    FILE* out;
    if (argc < 5 || patterns > MAX_PATTERNS)
        return 2;
    pause = (DWORD)atoi(argv[1]);
    while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) {
        for (i = 0; i < patterns; ++i) {
            const char* pattern = argv[4 + i];
            const char* slash = strrchr(pattern, '\\');
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA(pattern, &found);
            if (search == INVALID_HANDLE_VALUE || !slash)
                continue;
            do {
                char path[MAX_PATH * 2];
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    continue;
                snprintf(path, sizeof path, "%.*s\\%s", (int)(slash - pattern), pattern, found.cFileName);
                counts[i] += Rewrite(path);
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        Sleep(pause);
    }
    out = fopen(argv[3], "wb");
    if (!out)
        return 1;
    for (i = 0; i < patterns; ++i)
        fprintf(out, "%ld\n", counts[i]);
    fclose(out);
    return 0;
}
