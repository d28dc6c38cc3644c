# Builds the small Windows DLLs that sit beside fa9wolt.dll (string tables, sibling
# libraries) with the mingw tools directly, so that the host build gets the same
# real PE files that the package carries.

# fa9_version_rc(<out-var> <original-filename> <description>)
# Writes the version resource of one shipped file and sets <out-var> to its path.
function(fa9_version_rc var original description)
  string(REPLACE "." "," FA9_VERSION_COMMAS "${PROJECT_VERSION}")
  set(FA9_VI_ORIGINAL ${original})
  get_filename_component(FA9_VI_INTERNAL ${original} NAME_WE)
  set(FA9_VI_DESCRIPTION "${description}")
  if(original MATCHES "\\.exe$")
    set(FA9_VI_FILETYPE 0x1)  # VFT_APP
  else()
    set(FA9_VI_FILETYPE 0x2)  # VFT_DLL
  endif()
  string(MAKE_C_IDENTIFIER "${original}-${description}" tag)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/version-${tag}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${out} @ONLY)
  set(${var} ${out} PARENT_SCOPE)
endfunction()

# fa9_string_library(<target> <rc-file> <output-dll> [<description>])
# A resource-only DLL holding the string table of one .rc file and, with a description,
# the version resource of a shipped file.
function(fa9_string_library target rc out)
  get_filename_component(outdir ${out} DIRECTORY)
  get_filename_component(name ${out} NAME)
  file(MAKE_DIRECTORY ${outdir})
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${target}.res.o)
  set(objs ${obj})
  set(version_commands)
  if(ARGC GREATER 3)
    fa9_version_rc(version_rc ${name} "${ARGV3}")
    set(version_obj ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.o)
    list(APPEND objs ${version_obj})
    set(version_commands COMMAND ${FA9_PE_WINDRES} -O coff -i ${version_rc} -o ${version_obj})
  endif()
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${FA9_PE_WINDRES} -O coff -c 65001 -i ${rc} -o ${obj}
    ${version_commands}
    COMMAND ${FA9_WITH_EPOCH} ${FA9_PE_CC} -shared -nostdlib -s -Wl,-e,0 -o ${name} ${objs}
    DEPENDS ${rc} ${version_rc}
    # The linker derives the DLL's preferred base from the output name: a bare name, so
    # that the folder built in does not change it.
    WORKING_DIRECTORY ${outdir}
    COMMENT "String library ${out}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${out})
endfunction()

# fa9_pe_dll(<target> <output-dll> <def-file> <description> <sources>...)
# A plain C/C++ DLL linked statically against the mingw runtime, so that it imports
# system DLLs only, with its version resource and the stack protector; the link map
# beside it (<output-dll>.map) shows the protector was linked in.
function(fa9_pe_dll target out def description)
  set(srcs ${ARGN})
  get_filename_component(outdir ${out} DIRECTORY)
  get_filename_component(name ${out} NAME)
  file(MAKE_DIRECTORY ${outdir})
  fa9_version_rc(version_rc ${name} "${description}")
  set(version_obj ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.o)
  add_custom_command(
    OUTPUT ${out} ${out}.map
    COMMAND ${FA9_PE_WINDRES} -O coff -i ${version_rc} -o ${version_obj}
    COMMAND ${FA9_WITH_EPOCH} ${FA9_PE_PREFIX}-g++ -std=c++17 -O2 -fstack-protector-strong
            -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -shared -s -static -static-libgcc -static-libstdc++
            -Wl,-Map=${name}.map -o ${name} ${srcs} ${version_obj} ${def}
    DEPENDS ${srcs} ${def} ${version_rc}
    WORKING_DIRECTORY ${outdir}  # a bare output name: see fa9_string_library
    COMMENT "PE library ${out}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${out})
endfunction()
