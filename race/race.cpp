// Filled in by its own issue.
