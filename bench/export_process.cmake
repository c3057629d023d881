# Runs the command-line program itself: it must be built first.
tav_bench(export_process DEPS ZLIB::ZLIB qpdf::libqpdf)
add_dependencies(bench_export_process tavpdf_cli)
target_compile_definitions(bench_export_process PRIVATE TAV_CLI_PATH="$<TARGET_FILE:tavpdf_cli>")
# The synthetic jobs written into a folder, for bench/compare-builds.
add_executable(write_bench_jobs ${CMAKE_CURRENT_SOURCE_DIR}/write_jobs.cpp)
target_compile_options(write_bench_jobs PRIVATE ${TAV_WARNINGS})
