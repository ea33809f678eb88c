# cmake -DIN=... -DOUT=... -P StageExample.cmake: copies an example for the library folder.
# In the source tree an abstraction finds the plug-ins in ../build/tavrelle; beside the
# library they sit in .., so that path is left out of the copy.
file(READ "${IN}" text)
string(REPLACE " -path ../build/tavrelle" "" text "${text}")
file(WRITE "${OUT}" "${text}")
