# A generator of large contact stores for benchmarks: standard library only, so it builds
# wherever the core does and needs neither Google Benchmark nor libphonenumber.
add_executable(dialmend-make-profile make_profile.cpp profile_cards.cpp)
target_include_directories(dialmend-make-profile PRIVATE ${PROJECT_SOURCE_DIR})
