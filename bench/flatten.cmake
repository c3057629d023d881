# The transparency flattener against the export of the same job.
tav_bench(flatten DEPS "$<LINK_GROUP:RESCAN,tv_driver,tv_jdf,tv_pdfwriter,tv_pagewriter,tv_pictures,tv_colour,tv_settings,tv_kernel,tv_fonts,tv_platform>")
