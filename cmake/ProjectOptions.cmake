# Standard and warnings shared by every target of the project.
add_library(project_options INTERFACE)
target_compile_features(project_options INTERFACE cxx_std_20)
target_compile_options(project_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
    -Werror)
# g++ 12 at -O3 reports "literal" + std::string&& as an overlapping copy
# (its bug 105329): a false alarm that would fail optimised builds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(project_options INTERFACE -Wno-restrict)
endif()
# As Debian hardens its own programs: checked libc calls where the optimiser
# can see buffer sizes, and a symbol table that is read-only once loaded.
target_compile_definitions(project_options INTERFACE $<$<CONFIG:Release>:_FORTIFY_SOURCE=2>)
target_link_options(project_options INTERFACE LINKER:-z,relro,-z,now)
if(KESTRUN_SANITIZE)
    target_compile_options(project_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()
# Coverage for libFuzzer in every library the fuzz targets reach (clang only).
if(KESTRUN_FUZZ)
    target_compile_options(project_options INTERFACE -fsanitize=fuzzer-no-link
        -fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/fuzz/coverage_ignore.txt)
endif()

# Headers are included by folder: "link/host_link.h", "host/offset_image.h".
target_include_directories(project_options INTERFACE
    ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
