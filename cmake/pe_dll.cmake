# Builds the small Windows DLLs that sit beside fa9wolt.dll (string tables, sibling
# libraries) with the mingw tools directly, so that the host build gets the same
# real PE files that the package carries.

# fa9_string_library(<target> <rc-file> <output-dll>)
# A resource-only DLL holding the string table of one .rc file.
function(fa9_string_library target rc out)
  get_filename_component(outdir ${out} DIRECTORY)
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${target}.res.o)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${outdir}
    COMMAND ${FA9_PE_WINDRES} -O coff -c 65001 -i ${rc} -o ${obj}
    COMMAND ${FA9_PE_CC} -shared -nostdlib -s -Wl,-e,0 -o ${out} ${obj}
    DEPENDS ${rc}
    COMMENT "String library ${out}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${out})
endfunction()

# fa9_pe_dll(<target> <output-dll> <def-file> <sources>...)
# A plain C/C++ DLL linked statically against the mingw runtime, so that it imports
# system DLLs only.
function(fa9_pe_dll target out def)
  set(srcs ${ARGN})
  get_filename_component(outdir ${out} DIRECTORY)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${outdir}
    COMMAND ${FA9_PE_PREFIX}-g++ -std=c++17 -O2 -shared -s -static -static-libgcc -static-libstdc++
            -o ${out} ${srcs} ${def}
    DEPENDS ${srcs} ${def}
    COMMENT "PE library ${out}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${out})
endfunction()
