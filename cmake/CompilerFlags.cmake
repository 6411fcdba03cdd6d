# Distribution-specific paths (GoogleTest's sources), named once for shell, CMake and Python.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian-paths.env vintra_debian_paths REGEX "^VINTRA_[A-Z_]+=")
foreach(entry ${vintra_debian_paths})
  string(REGEX MATCH "^([A-Z_]+)=(.*)$" _ ${entry})
  set(${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
endforeach()

# Warnings on and clean (errors with VINTRA_WERROR, as in CI); strict float
# semantics so the panel arithmetic is the same on every build (no fused
# multiply-add, no excess precision).
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

option(VINTRA_WERROR "Treat compiler warnings as errors" OFF)
if(MSVC)
  add_compile_options(/W4 /fp:strict)
  if(VINTRA_WERROR)
    add_compile_options(/WX)
  endif()
  # One self-contained exe: the C runtime linked in statically.
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  # Flags for the product's own code (not for third-party test frameworks).
  set(VINTRA_PRODUCT_FLAGS /GR-)
else()
  add_compile_options(-Wall -Wextra -Wshadow -Wimplicit-fallthrough -ffp-contract=off)
  if(VINTRA_WERROR)
    add_compile_options(-Werror)
  endif()
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
    add_compile_options(-mfpmath=sse)
  endif()
  set(VINTRA_PRODUCT_FLAGS -fno-exceptions -fno-rtti)
endif()
