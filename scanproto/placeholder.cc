namespace qb {}
