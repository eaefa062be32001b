print(3000 - len({j // 2 for j in range(0, 3000, 3)}), 3000 - len({j // 2 for j in range(0, 3000, 3)}))
