-- Samples stored by the collector: one row per line of vmstat output that
-- it read through Korbad. The collector creates the table when it is
-- missing; pages of the example site read it.
--
-- A row is identified by its host and the moment the collector read it, so
-- a row written again after a lost reply (a database restart in the middle
-- of an insert) is not stored twice.
CREATE TABLE IF NOT EXISTS samples (
  host              VARCHAR(64) NOT NULL,  -- the monitored host, as the collector names it
  taken_ms          BIGINT      NOT NULL,  -- when the line was read: milliseconds since the epoch
  procs_running     INT,                   -- processes waiting for a CPU (r)
  procs_blocked     INT,                   -- processes in uninterruptible sleep (b)
  swap_used_kb      BIGINT,                -- swpd
  mem_free_kb       BIGINT,                -- free
  mem_buffers_kb    BIGINT,                -- buff
  mem_cache_kb      BIGINT,                -- cache
  swap_in_kbs       BIGINT,                -- si: swapped in per second
  swap_out_kbs      BIGINT,                -- so
  blocks_in_s       BIGINT,                -- bi: blocks read per second
  blocks_out_s      BIGINT,                -- bo
  interrupts_s      BIGINT,                -- in
  context_sw_s      BIGINT,                -- cs
  cpu_user          TINYINT,               -- us: percent of CPU time
  cpu_system        TINYINT,               -- sy
  cpu_idle          TINYINT,               -- id
  cpu_wait          TINYINT,               -- wa
  cpu_stolen        TINYINT,               -- st
  PRIMARY KEY (host, taken_ms)
);
