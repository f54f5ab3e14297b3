# Checks the dynamic symbol table of libzemta.so: every name of exports.txt is
# exported as itself, and no C++ internals of the library or the platform leak.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
file(STRINGS ${EXPECTED} expected REGEX "^[A-Za-z_]")
set(missing "")
foreach(name ${expected})
  if(NOT symbols MATCHES "[ \n][TDB] ${name}\n")
    list(APPEND missing ${name})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "not exported: ${missing}")
endif()
# The platform layer's process-wide state (named g_platform...) is exported on
# purpose, as are its accessors named shared...(): every copy of the layer
# must bind to one definition.
string(REPLACE "\n" ";" lines "${symbols}")
foreach(line ${lines})
  if(line MATCHES "[TDB] (_ZN8platform|_ZN5zemta)" AND NOT line MATCHES "g_platform|shared[A-Z]")
    message(FATAL_ERROR "internal symbol exported: ${line}")
  endif()
endforeach()
list(LENGTH expected count)
message(STATUS "${count} exports present")
