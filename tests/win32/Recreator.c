/* Another program that wants a file of its own: whenever the file named by
   its first argument disappears, it creates it again at once with the text
   "al altui program", until the file named by its second argument exists.
   It prints the number of files it created to the third argument's file. */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    int created = 0;
    while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) {
        if (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES) {
            HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
            if (file != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                WriteFile(file, "al altui program", 16, &written, NULL);
                CloseHandle(file);
                ++created;
            }
        }
        Sleep(1);
    }
    FILE* f = fopen(argv[3], "wb");
    if (f) {
        fprintf(f, "%d", created);
        fclose(f);
    }
    return 0;
}
