# Generated Java for the Java-visible layouts, from the one description of
# each in service/interfaces/layouts/<Name>.def (whose offsets the C side
# checks at compile time), so Java never types an offset or a field read by
# hand:
#
#  - <Name>Layout.java for every layout: SIZE, <FIELD>_OFFSET and, for
#    arrays, <FIELD>_LENGTH;
#  - the reading part of every record class <Name>.java.in next to the
#    hand-written classes: a row that ends in a doc comment (/** text */) is
#    a public final field of the Java record, declared and read by the
#    generated code. The template places the pieces with
#      @KYR_FIELDS_<Name>@      the field declarations
#      @KYR_READ_<Name>@        their reads from a buffer `b` (constructor body)
#      @KYR_NESTED_FIELDS_<Name>@, @KYR_NESTED_READ_<Name>@  the same in a nested class
#      @KYR_READ_ONE_<Name>@    public static <Name> read(long handle)
#      @KYR_READ_LIST_<Name>@   public static List<<Name>> readList(long head)
#      @KYR_BUFFER_NATIVE@      the newDirectByteBuffer native every class has
#      @KYR_GENERATED@          the "generated, do not edit" line
#    and keeps by hand only what is not a plain field read.
#
# Sets layout_java_files to the generated sources.
set(layout_dir ${CMAKE_SOURCE_DIR}/service/interfaces/layouts)
set(layout_out ${CMAKE_CURRENT_BINARY_DIR}/generated/quorvex/kyrconnectservice)
file(GLOB layout_defs CONFIGURE_DEPENDS ${layout_dir}/*.def)

# Java type and read expression of a scalar row (text rows are read apart).
set(kyr_java_I8 "int;b.get(@OFF@)")
set(kyr_java_U8 "int;b.get(@OFF@) & 0xFF")
set(kyr_java_I16 "int;b.getShort(@OFF@)")
set(kyr_java_U16 "int;b.getShort(@OFF@) & 0xFFFF")
set(kyr_java_I32 "int;b.getInt(@OFF@)")
set(kyr_java_U32 "int;b.getInt(@OFF@)")
set(kyr_java_I64 "long;b.getLong(@OFF@)")
set(kyr_java_U64 "long;b.getLong(@OFF@)")
set(kyr_java_F32 "float;b.getFloat(@OFF@)")
set(kyr_java_F64 "double;b.getDouble(@OFF@)")

set(layout_java_files "")
foreach(def ${layout_defs})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  file(STRINGS ${def} def_lines REGEX "^KYR_")
  set(KYR_LAYOUT_NAME "")
  set(KYR_LAYOUT_SIZE "")
  set(KYR_LAYOUT_CONSTANTS "")
  set(fields "")
  set(reads "")
  foreach(line ${def_lines})
    if(line MATCHES "^KYR_LAYOUT\\(([A-Za-z0-9_]+), *([0-9]+)")
      set(KYR_LAYOUT_NAME ${CMAKE_MATCH_1})
      set(KYR_LAYOUT_SIZE ${CMAKE_MATCH_2})
    elseif(line MATCHES "^KYR_(FIELD|ARRAY)(_FROM)?\\([A-Za-z0-9_]+, *([A-Za-z0-9_]+), *([0-9]+), *([A-Za-z0-9_]+)(, *([0-9]+))?")
      set(kind ${CMAKE_MATCH_1})
      set(field ${CMAKE_MATCH_3})
      set(offset ${CMAKE_MATCH_4})
      set(type ${CMAKE_MATCH_5})
      set(count ${CMAKE_MATCH_7})
      string(REGEX REPLACE "([a-z0-9])([A-Z])" "\\1_\\2" upper "${field}")
      string(TOUPPER "${upper}" upper)
      string(APPEND KYR_LAYOUT_CONSTANTS "    /** Offset of {@code ${field}} (${type}). */\n    public static final int ${upper}_OFFSET = ${offset};\n")
      if(kind STREQUAL "ARRAY")
        string(APPEND KYR_LAYOUT_CONSTANTS "    /** Elements in {@code ${field}}. */\n    public static final int ${upper}_LENGTH = ${count};\n")
      endif()
      if(line MATCHES "/\\*\\* (.*) \\*/ *$")
        set(doc "${CMAKE_MATCH_1}")
        set(at "${KYR_LAYOUT_NAME}Layout.${upper}_OFFSET")
        if(kind STREQUAL "ARRAY" AND type STREQUAL "CHAR")
          set(jtype String)
          set(expr "StructChain.text(b, ${at}, ${KYR_LAYOUT_NAME}Layout.${upper}_LENGTH)")
        elseif(kind STREQUAL "FIELD" AND DEFINED kyr_java_${type})
          list(GET kyr_java_${type} 0 jtype)
          list(GET kyr_java_${type} 1 expr)
          string(REPLACE "@OFF@" "${at}" expr "${expr}")
        else()
          message(FATAL_ERROR "${def}: ${field} has a Java doc comment but is neither a scalar nor a text; read it by hand")
        endif()
        string(APPEND fields "    /** ${doc} */\n    public final ${jtype} ${field};\n")
        string(APPEND reads "        ${field} = ${expr};\n")
      endif()
    endif()
  endforeach()
  if(NOT KYR_LAYOUT_NAME)
    message(FATAL_ERROR "${def}: no KYR_LAYOUT line")
  endif()
  set(out ${layout_out}/${KYR_LAYOUT_NAME}Layout.java)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/Layout.java.in ${out} @ONLY)
  list(APPEND layout_java_files ${out})

  set(n ${KYR_LAYOUT_NAME})
  set(KYR_FIELDS_${n} "${fields}")
  set(KYR_READ_${n} "${reads}")
  # The same one level deeper, for a nested class.
  string(REGEX REPLACE "(^|\n)    " "\\1        " KYR_NESTED_FIELDS_${n} "${fields}")
  string(REGEX REPLACE "(^|\n)        " "\\1            " KYR_NESTED_READ_${n} "${reads}")
  set(KYR_READ_ONE_${n} "    /**
     * Reads the ${n} named by handle into a new object; the native block
     * stays as it is (a list still has to be released).
     *
     * @param handle the block's handle, as the library returned or posted it
     * @return the object, or null when the handle names nothing
     */
    public static ${n} read(long handle) {
        ByteBuffer b = StructChain.view(${n}::newDirectByteBuffer, handle, ${n}Layout.SIZE);
        return b == null ? null : new ${n}(b);
    }

")
  set(KYR_READ_LIST_${n} "    /**
     * Reads every node of a native list, in list order; the list stays
     * native and must still be released.
     *
     * @param head the list's handle (0: empty)
     * @return the nodes read
     */
    public static List<${n}> readList(long head) {
        return StructChain.read(head, ${n}Layout.SIZE, ${n}::newDirectByteBuffer, ${n}::new);
    }

")
endforeach()

set(KYR_BUFFER_NATIVE "    /**
     * A direct buffer over the native block named by handle, or null when the
     * handle names nothing or the block is smaller than capacity.
     *
     * @param handle a handle the library returned or posted
     * @param capacity bytes to view
     * @return the buffer, or null
     */
    public static native ByteBuffer newDirectByteBuffer(long handle, long capacity);

")

file(GLOB struct_templates CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/quorvex/kyrconnectservice/*.java.in)
foreach(tmpl ${struct_templates})
  get_filename_component(cls ${tmpl} NAME_WE)
  if(NOT DEFINED KYR_FIELDS_${cls})
    message(FATAL_ERROR "${tmpl}: no layout ${cls} in ${layout_dir}")
  endif()
  set(KYR_GENERATED "// Generated at build time from java/src/quorvex/kyrconnectservice/${cls}.java.in; do not edit.")
  configure_file(${tmpl} ${layout_out}/${cls}.java @ONLY)
  list(APPEND layout_java_files ${layout_out}/${cls}.java)
endforeach()
