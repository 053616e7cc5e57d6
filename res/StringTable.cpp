// String table (placeholder until the main dialog lands).
