# A generator of large contact stores for benchmarks: standard library only, so it builds
# wherever the core does and needs neither Google Benchmark nor libphonenumber.
add_executable(dialmend-make-profile make_profile.cpp)
