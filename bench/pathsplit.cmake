tav_bench(pathsplit DEPS tv_platform)
