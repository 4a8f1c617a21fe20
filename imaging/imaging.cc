// Placeholder until the imaging code lands.
namespace qb {}
