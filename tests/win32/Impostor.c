/* What a program of the user puts under the payroll program's name: it only
 * leaves a trace that it was started. */
#include <stdio.h>
#include <windows.h>

int main(void)
{
    FILE* f = fopen("C:\\Pravion\\impostor-started.txt", "ab");
    if (!f)
        return 1;
    fprintf(f, "%s\n", GetCommandLineA());
    fclose(f);
    return 0;
}
