print("argv[0] = test_uncaught.ktl")
print("computing")
