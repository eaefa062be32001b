/* Kestal runtime: header (being written). */
