int gen_scenery(const char *) { return 1; }
