#!/bin/sh
# The launcher may import at load time only DLLs the system always takes from
# System32 (known DLLs); everything else is delay-loaded after wWinMain has
# restricted the search path, so no DLL planted beside the exe gets loaded.
exe="$1"
known="advapi32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll"
bad=0
for dll in $(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/{print tolower($3)}'); do
  case " $known " in
    *" $dll "*) ;;
    *) echo "load-time import of $dll"; bad=1 ;;
  esac
done
[ "$bad" -eq 0 ] && echo "imports ok"
exit "$bad"
