/* The control of the planting test: a program that imports VERSION.dll
 * statically, as the wizard once did. */
#include <windows.h>

int main(void)
{
    DWORD handle = 0;
    return GetFileVersionInfoSizeW(L"C:\\windows\\system32\\kernel32.dll", &handle) > 0 ? 0 : 1;
}
