# Runs the command-line program itself: it must be built first.
tav_bench(export_process DEPS ZLIB::ZLIB)
add_dependencies(bench_export_process tavpdf_cli)
target_compile_definitions(bench_export_process PRIVATE TAV_CLI_PATH="$<TARGET_FILE:tavpdf_cli>")
