import sys

w = sys.stdout.write
w("a\nb\n")
w("x" * 30000 + "y" * 100000 + "\n")
w("o" * 40000 + "\n" + str(len(str(list(range(10000))))) + "\n")
w("p" * 20000 + "\n" + str(len("<" + "[0, 1, 2]" * 2 + "q" * 70000 + ">")) + "\n")
w("s" * 20000 + "u" * 50000 + "\n")
w("OK\n")
