# Compares the dynamic symbols a shared library defines with a list kept in the tree.
# Usage: cmake -DLIBRARY=lib.so -DEXPECTED=list.txt [-DNM=nm] -P CheckExportedSymbols.cmake
if(NOT NM)
  set(NM nm)
endif()
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${err}")
endif()

# Symbols the linker or the sanitizer runtime adds on its own.
set(ignored _init _fini _edata _end __bss_start _DYNAMIC _GLOBAL_OFFSET_TABLE_)

string(REPLACE "\n" ";" lines "${out}")
set(actual)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^ @]+)")
    set(type "${CMAKE_MATCH_1}")
    set(sym "${CMAKE_MATCH_2}")
    list(FIND ignored "${sym}" idx)
    if(NOT idx EQUAL -1 OR sym MATCHES "^__(asan|ubsan|odr_asan|sancov|lsan)")
      continue()
    endif()
    list(APPEND actual "${sym}")
  endif()
endforeach()
list(REMOVE_DUPLICATES actual)
list(SORT actual)

file(STRINGS ${EXPECTED} expected)
list(FILTER expected EXCLUDE REGEX "^(#.*|[ \t]*)$")
list(SORT expected)

set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
if(actual)
  list(REMOVE_ITEM missing ${actual})
endif()
if(extra OR missing)
  string(REPLACE ";" "\n  " extra_text "${extra}")
  string(REPLACE ";" "\n  " missing_text "${missing}")
  message(FATAL_ERROR "exported symbols differ from ${EXPECTED}\n"
                      "exported but not listed:\n  ${extra_text}\n"
                      "listed but not exported:\n  ${missing_text}")
endif()
message(STATUS "exported symbols match (${EXPECTED})")
