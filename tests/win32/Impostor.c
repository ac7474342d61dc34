/* What a program of the user puts under the payroll program's name: it only
 * leaves a trace that it was started. */
#include <stdio.h>
#include <windows.h>

/* Of another size than the payroll program of the tests, so that a program
 * watching for that size takes it for the new file no more. */
static volatile const char kPadding[16384] = {1};

int main(void)
{
    FILE* f = fopen("C:\\Pravion\\impostor-started.txt", "ab");
    if (!f)
        return 1;
    fprintf(f, "%s\n", GetCommandLineA());
    fclose(f);
    return kPadding[0] - 1;
}
