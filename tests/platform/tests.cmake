tav_test(platform DEPS tv_platform tv_kernel)
