# The Outlook walk's timing through IDispatch, over the stand-in Outlook that the Outlook store's
# tests build (tests/stores/outlook). Windows only, and only with the tests. Google Benchmark has
# no mingw build, so this one times itself.
if(NOT TARGET fake_outlook)
  message(FATAL_ERROR "outlook-bench needs the fake_outlook library from tests/stores/outlook")
endif()
add_executable(outlook-bench ${CMAKE_CURRENT_LIST_DIR}/outlook_bench.cpp)
target_link_libraries(outlook-bench PRIVATE outlook run fake_outlook)
add_dependencies(outlook-bench fake_outlook_server)
