# The documents against the code: the README's list of what is not built
# names exactly the messages the code can still give about it.
tav_test(docs DEPS tv_platform)
