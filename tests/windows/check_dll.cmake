cmake_minimum_required(VERSION 3.20)
# Reads talvo.dll with objdump and checks what a host relies on before it runs
# a single instruction of it:
#  - a 32-bit DLL exporting exactly the seven names, undecorated, at ordinals 1..7;
#  - imports from Windows system DLLs only (the compiler's runtime is linked in);
#  - each export removes the stack arguments the host pushed: DrvProcessLine
#    its five (ret $0x14), the others none, as their arguments travel in
#    EAX, EDX and ECX.
# Usage: cmake -DDLL=talvo.dll -DOBJDUMP=i686-w64-mingw32-objdump -P check_dll.cmake

set(failures "")

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()
string(REPLACE "\n" ";" lines "${headers}")

if(NOT headers MATCHES "file format pei-i386")
  list(APPEND failures "not a 32-bit (pei-i386) image")
endif()

# Export table: "[Ordinal/Name Pointer] Table" rows "[ i] Name", i counted from
# the ordinal base.
set(base "")
set(section "")
set(exports "")
set(imports "")
foreach(line IN LISTS lines)
  if(line MATCHES "^Ordinal Base[ \t]+([0-9]+)")
    set(base ${CMAKE_MATCH_1})
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(section names)
  elseif(line MATCHES "^[ \t]*$")
    set(section "")
  elseif(section STREQUAL "names" AND line MATCHES "^[ \t]+\\[[ ]*([0-9]+)\\] (.+)$")
    math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
    list(APPEND exports "${ordinal}:${CMAKE_MATCH_2}")
  endif()
  if(line MATCHES "^[ \t]+DLL Name: (.+)$")
    list(APPEND imports "${CMAKE_MATCH_1}")
  endif()
endforeach()

list(SORT exports COMPARE NATURAL)
set(want_exports 1:DrvGetHandle 2:DrvProcessClose 3:DrvProcessVer 4:DrvProcessEnd 5:DrvProcessStart
    6:DrvInitDriver 7:DrvProcessLine)
if(NOT exports STREQUAL want_exports)
  list(APPEND failures "exports (ordinal:name) are\n    ${exports}\n  want\n    ${want_exports}")
endif()

# System DLLs only: no libgcc, libstdc++ or winpthread beside the driver.
set(system_dlls kernel32.dll msvcrt.dll ntdll.dll user32.dll advapi32.dll ucrtbase.dll)
if(NOT imports)
  list(APPEND failures "no import table found")
endif()
foreach(dll IN LISTS imports)
  string(TOLOWER "${dll}" lower)
  if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-")
    list(APPEND failures "imports ${dll}, which is not a Windows system DLL")
  endif()
endforeach()

# Stack bytes each export removes, found in its own disassembly (and that of
# its cold part, if the compiler split one off). The symbol's decoration
# counts all argument bytes, registers included.
set(pops
    "DrvGetHandle@0:"
    "DrvInitDriver@12:"
    "DrvProcessStart@4:"
    "DrvProcessLine@32:$0x14"
    "DrvProcessEnd@4:"
    "DrvProcessClose@4:"
    "DrvProcessVer@4:")
foreach(entry IN LISTS pops)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 symbol)
  list(LENGTH parts n)
  set(want_pop "")
  if(n GREATER 1)
    list(GET parts 1 want_pop)
  endif()
  set(rets "")
  foreach(part "_${symbol}" "_${symbol}.cold")
    execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn --disassemble=${part} ${DLL}
                    OUTPUT_VARIABLE code RESULT_VARIABLE rc)
    string(REPLACE "\n" ";" code_lines "${code}")
    # objdump runs on into the next function (PE symbols carry no size):
    # stop at the next symbol's heading.
    set(inside FALSE)
    foreach(code_line IN LISTS code_lines)
      if(code_line MATCHES "^[0-9a-f]+ <(.*)>:$")
        if(inside)
          break()
        endif()
        set(inside TRUE)
      elseif(inside AND code_line MATCHES "^ *[0-9a-f]+:[ \t]+ret[ \t]*([^ \t]*)")
        list(APPEND rets "ret${CMAKE_MATCH_1}")
      endif()
    endforeach()
  endforeach()
  if(NOT rets)
    list(APPEND failures "${symbol}: no ret found (symbol missing, or the DLL was stripped)")
  endif()
  foreach(ret IN LISTS rets)
    if(NOT ret STREQUAL "ret${want_pop}")
      list(APPEND failures "${symbol}: '${ret}', want 'ret ${want_pop}'")
    endif()
  endforeach()
  message(STATUS "${symbol}: ${rets}")
endforeach()

if(failures)
  string(REPLACE ";" "\n  " text "${failures}")
  message(FATAL_ERROR "talvo.dll:\n  ${text}")
endif()
message(STATUS "exports: ${exports}")
message(STATUS "imports: ${imports}")
