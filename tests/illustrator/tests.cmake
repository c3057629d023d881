tav_test(illustrator DEPS tv_illustrator tv_pagewriter tv_kernel tv_platform)
