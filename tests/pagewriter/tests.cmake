tav_test(pagewriter DEPS tv_pagewriter tv_kernel tv_platform)
