tav_test(support_selftest DEPS tv_platform)
