// Placeholder until the storage code lands.
namespace qb {}
