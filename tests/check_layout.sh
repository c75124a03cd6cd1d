#!/bin/sh
# OS-specific code stays under platform/win32 and platform/posix.
cd "$1" || exit 2
bad=$(grep -rn -E '#\s*if(def|ndef)?\s.*_WIN32|defined\(_WIN32\)|#\s*include\s*<(windows|winhttp|wininet)\.h>' \
  config startup ui games install download platform/*.h platform/*.cpp tools 2>/dev/null)
if [ -n "$bad" ]; then
  echo "OS-specific code outside platform/ backends:"; echo "$bad"; exit 1
fi
echo "layout ok"
