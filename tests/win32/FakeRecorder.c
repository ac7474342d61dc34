/* A stand-in for the payroll program that records how it was started. */
#include <stdio.h>
#include <windows.h>

int main(void)
{
    FILE* f = fopen("C:\\Pravion\\kp3-started.txt", "ab");
    if (!f)
        return 1;
    fprintf(f, "%s\n", GetCommandLineA());
    fclose(f);
    return 0;
}
