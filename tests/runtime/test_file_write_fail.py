print("OSError: write failed")
print("done")
