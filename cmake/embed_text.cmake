# Writes the bytes of the file INPUT into OUTPUT as the NUL-terminated
# C++ array NAME, so that a text kept as a file of its own is built in.
#   cmake -DINPUT=... -DOUTPUT=... -DNAME=... -P embed_text.cmake
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "(..)" "'\\\\x\\1'," bytes "${hex}")
file(WRITE "${OUTPUT}.new" "const char ${NAME}[] = {${bytes}0};\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
