tav_test(pdfwriter DEPS tv_pdfwriter tv_platform qpdf::libqpdf ZLIB::ZLIB)
