"""Dense linear systems for the table design programs in this folder."""


def solve(a, b):
    """x with a x = b, by Gaussian elimination with partial pivoting."""
    n = len(b)
    m = [list(row) + [b[i]] for i, row in enumerate(a)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(m[r][c]))
        m[c], m[p] = m[p], m[c]
        if m[c][c] == 0.0:
            raise ZeroDivisionError("singular system")
        for r in range(c + 1, n):
            k = m[r][c] / m[c][c]
            if k:
                for j in range(c, n + 1):
                    m[r][j] -= k * m[c][j]
    x = [0.0] * n
    for c in range(n - 1, -1, -1):
        x[c] = (m[c][n] - sum(m[c][j] * x[j] for j in range(c + 1, n))) / m[c][c]
    return x
