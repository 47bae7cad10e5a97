/* The body of a generated driver file: a PE image whose only purpose is to
   carry a version resource. The scenario runner writes the wanted version into
   its fixed version information. */
int StubEntry(void) { return 0; }
