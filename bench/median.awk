# The median of column col over the rows read so far (value[row, col]), for the bench scripts.
function median(col,   i, j, n, v, t) {
  n = 0
  for (i = 1; i <= NR; i++) v[++n] = value[i, col]
  for (i = 2; i <= n; i++) { t = v[i]; for (j = i - 1; j > 0 && v[j] > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
  return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
}
