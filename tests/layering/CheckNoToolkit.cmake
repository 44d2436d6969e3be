# cmake -DNM=... -DLDD=... -DSHARED=<shared object> -DARCHIVES=<a;b;...> -P CheckNoToolkit.cmake
# Fails when the shared object depends on the toolkit library or when it or an archive defines
# or needs a toolkit symbol. Prints what it saw, as evidence.
execute_process(COMMAND ${LDD} ${SHARED} OUTPUT_VARIABLE needed RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "ldd ${SHARED} failed")
endif()
message(STATUS "ldd ${SHARED}:\n${needed}")
if(needed MATCHES "toolkit")
    message(FATAL_ERROR "the engine and the TIFF writer depend on the toolkit")
endif()

execute_process(COMMAND ${NM} -C ${SHARED} ${ARCHIVES} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE failed)
# An empty listing would pass for clean: the engine's and the writer's own symbols must be there.
if(failed OR NOT symbols MATCHES "stipplor::RotateBitmap" OR
   NOT symbols MATCHES "stipplor::TTIFFLoader::SaveToStream")
    message(FATAL_ERROR "nm did not list the engine and the TIFF writer")
endif()
string(REGEX MATCHALL "[^\n]*toolkit::[^\n]*" toolkitSymbols "${symbols}")
list(LENGTH toolkitSymbols count)
string(REGEX MATCHALL "\n" lines "${symbols}")
list(LENGTH lines total)
message(STATUS "nm -C: ${total} symbol lines, ${count} of the toolkit")
if(count GREATER 0)
    list(JOIN toolkitSymbols "\n" shown)
    message(FATAL_ERROR "toolkit symbols:\n${shown}")
endif()
