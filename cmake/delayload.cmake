# Delay-loaded import libraries: gdiplus, winhttp and bcrypt are not among the
# system's known DLLs, so a static import would be looked for beside the exe
# (a download folder) before the entry point can restrict the search path.
# Loading them on first use lets wWinMain limit the search to System32 first.
# (WinINet is loaded by hand in wininet_read.cpp: the delay helper fails on it
# under Wine.)
function(tarnwick_delay_import_lib name out_var)
  set(out ${CMAKE_BINARY_DIR}/delayimp/lib${name}_delay.a)
  if(NOT EXISTS ${out})
    set(def ${CMAKE_BINARY_DIR}/delayimp/${name}.def)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayimp)
    find_library(_implib_${name} NAMES lib${name}.a ${name} REQUIRED NO_CACHE)
    find_program(_nm NAMES i686-w64-mingw32-nm REQUIRED)
    find_program(_dlltool NAMES i686-w64-mingw32-dlltool REQUIRED)
    execute_process(COMMAND ${_nm} -g ${_implib_${name}} OUTPUT_VARIABLE syms COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "[0-9a-f]+ T _[A-Za-z0-9_@]+" lines "${syms}")
    set(exports "")
    foreach(l IN LISTS lines)
      string(REGEX REPLACE "^[0-9a-f]+ T _" "" sym "${l}")
      # Only real exports: the import library also carries helper code.
      string(FIND "${syms}" " I __imp__${sym}\n" has_imp)
      if(has_imp GREATER -1)
        list(APPEND exports "${sym}")
      endif()
    endforeach()
    list(REMOVE_DUPLICATES exports)
    list(JOIN exports "\n" body)
    file(WRITE ${def} "LIBRARY ${name}.dll\nEXPORTS\n${body}\n")
    # dlltool names its symbols after the output path: a relative one keeps
    # the checkout's folder out of the program.
    execute_process(COMMAND ${_dlltool} -k --input-def ${name}.def --output-delaylib lib${name}_delay.a
                            --dllname ${name}.dll
                    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/delayimp COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()

set(TARNWICK_DELAY_LIBS "")
foreach(lib gdiplus winhttp bcrypt)
  tarnwick_delay_import_lib(${lib} _path)
  list(APPEND TARNWICK_DELAY_LIBS ${_path})
endforeach()
# The plain import libraries after them supply only their helper code.
list(APPEND TARNWICK_DELAY_LIBS delayimp gdiplus)

