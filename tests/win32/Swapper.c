/* A program of the user beside the wizard: as soon as the payroll program has
 * `size` bytes (the update's new file is in place), it tries, over and over
 * until the stop file appears, to rename it away and put its own program
 * under the name, as any Windows program would (MoveFileW: the share modes of
 * whoever holds the file apply).
 *
 *   swapper <program> <size> <own program> <stop file> <count file>
 *
 * The count file gets "<attempts> <renames that succeeded>". */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    long long size, attempts = 0, swapped = 0;
    wchar_t aside[MAX_PATH + 8];
    FILE* out;
    if (argc != 6)
        return 2;
    size = _wtoi64(argv[2]);
    swprintf(aside, MAX_PATH + 8, L"%ls.vechi", argv[1]);
    while (GetFileAttributesW(argv[4]) == INVALID_FILE_ATTRIBUTES) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(argv[1], GetFileExInfoStandard, &data) &&
            (((long long)data.nFileSizeHigh << 32) | data.nFileSizeLow) == size) {
            ++attempts;
            SetFileAttributesW(argv[1], FILE_ATTRIBUTE_NORMAL);
            if (MoveFileExW(argv[1], aside, MOVEFILE_REPLACE_EXISTING)) {
                ++swapped;
                CopyFileW(argv[3], argv[1], FALSE);
            }
        }
        Sleep(1);
    }
    out = _wfopen(argv[5], L"wb");
    if (!out)
        return 1;
    fprintf(out, "%lld %lld\n", attempts, swapped);
    fclose(out);
    return 0;
}
