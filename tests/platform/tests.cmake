tav_test(platform DEPS tv_platform)
