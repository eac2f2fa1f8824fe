# The Outlook store: Windows only, reached through COM late binding (no type library).
# Included from contacts/CMakeLists.txt inside if(WIN32).
target_sources(contacts PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/com_dispatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/outlook_store.cpp
)
target_link_libraries(contacts PUBLIC ole32 oleaut32 uuid)
