// Include right after <windows.h> wherever the platform interface is used
// too. The interface's methods carry the plain Windows names, which
// <windows.h> defines as macros for its A/W pairs; without these the methods
// would be renamed in one file and not in another. Code then calls the A
// functions explicitly.
#pragma once

#undef RegOpenKey
#undef RegOpenKeyEx
#undef RegEnumKey
#undef RegQueryInfoKey
#undef RegQueryValueEx
#undef RegDeleteKey
#undef RegDeleteValue
#undef GetWindowsDirectory
#undef GetCommandLine
#undef MessageBox
#undef LoadString
#undef CreateFile
#undef GetFileAttributes
#undef SetFileAttributes
#undef DeleteFile
#undef GetFileVersionInfoSize
#undef GetFileVersionInfo
