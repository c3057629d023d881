# The separations renderer: previews at 72 ppi beside the export of the same job.
tav_bench(previews DEPS "$<LINK_GROUP:RESCAN,tv_driver,tv_jdf,tv_pdfwriter,tv_pagewriter,tv_pictures,tv_colour,tv_settings,tv_kernel,tv_fonts,tv_platform>")
target_compile_definitions(bench_previews PRIVATE TAV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
