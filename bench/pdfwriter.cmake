tav_bench(pdfwriter DEPS tv_pdfwriter tv_platform ZLIB::ZLIB)
