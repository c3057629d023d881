# Type 1 programs and subsets, the font faces, the job's font cache and the
# text calculator.
tav_test(fonts DEPS tv_fonts tv_kernel tv_platform)
