#!/bin/sh
# A shipped exe may import at load time only DLLs the system always takes
# from System32 (known DLLs); everything else is delay-loaded after the entry
# has restricted the search path, so no DLL planted beside the exe gets loaded.
# Usage: check_imports.sh EXE...
known="advapi32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll"
bad=0
[ "$#" -gt 0 ] || { echo "usage: check_imports.sh EXE..."; exit 2; }
for exe in "$@"; do
  dlls=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/{print tolower($3)}')
  [ -n "$dlls" ] || { echo "$exe: no import table read"; bad=1; continue; }
  for dll in $dlls; do
    case " $known " in
      *" $dll "*) ;;
      *) echo "$(basename "$exe"): load-time import of $dll"; bad=1 ;;
    esac
  done
done
[ "$bad" -eq 0 ] && echo "imports ok"
exit "$bad"
