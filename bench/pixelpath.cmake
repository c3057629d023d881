tav_bench(pixelpath DEPS "$<LINK_GROUP:RESCAN,tv_pictures,tv_pagewriter,tv_driver,tv_jdf,tv_colour,tv_pdfwriter,tv_settings,tv_kernel,tv_fonts,tv_platform>" ZLIB::ZLIB JPEG::JPEG)
