print(2 ** 62)
print(0)
