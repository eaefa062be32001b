words = []
acc = ""
d = {}
for i in range(300):
    w = "w" + str((i * 7919) % 1000)
    words.append(w)
    acc = acc + w + ","
    d[w] = [i, i * i]
print(len(acc))
parts = acc.split(",")
parts.sort()
print(" ".join(parts))
print(str(d))
print(50, repr("missing49"))
print(words)
