tav_test(document DEPS tv_pdfwriter tv_pagewriter tv_colour tv_settings tv_kernel tv_platform qpdf::libqpdf)
