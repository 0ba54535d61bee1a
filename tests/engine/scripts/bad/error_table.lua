error({ reason = "a table, not a message" })
