# Fails when a C++ file of ours differs from what clang-format makes of it
# with the committed .clang-format. Fix with: clang-format -i FILE
file(GLOB_RECURSE files
  ${ROOT}/src/*.h ${ROOT}/src/*.cpp ${ROOT}/tests/*.h ${ROOT}/tests/*.cpp
  ${ROOT}/tools/*.cpp ${ROOT}/bench/*.cpp ${ROOT}/res/*.cpp)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror --style=file ${files}
  RESULT_VARIABLE status ERROR_VARIABLE diagnostics)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "files differ from .clang-format:\n${diagnostics}")
endif()
list(LENGTH files n)
message(STATUS "${n} files match .clang-format")
