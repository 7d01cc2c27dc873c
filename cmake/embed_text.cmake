# Turns a text file into a C++ raw string literal include, byte for byte.
file(READ ${INPUT} content)
set(delimiter "skill_md")
file(WRITE ${OUTPUT} "R\"${delimiter}(${content})${delimiter}\"\n")
