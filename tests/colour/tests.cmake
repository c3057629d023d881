tav_test(colour DEPS tv_colour tv_pagewriter tv_pdfwriter tv_settings tv_kernel tv_platform)
