// Data files: being written.
