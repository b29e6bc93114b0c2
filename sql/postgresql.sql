-- The two tables of a Brakmor site on PostgreSQL.  `brakmorctl db init`
-- runs this script; the service itself never creates or alters a table.
--
-- Dates are timestamps to the second, in the database's local time.  RcvMdt
-- is set by the table at insert.  There is no unique key on (RcvMdt,
-- RcvLfn): every pass over a buffer file numbers from 1, so two passes in
-- one second repeat pairs, and each such insert must still succeed.

CREATE TABLE Quz570Rcv (
  RcvMdt timestamp(0) NOT NULL DEFAULT LOCALTIMESTAMP(0),
  RcvLfn integer,
  RcvDta varchar(512),
  RcvEsb varchar(8)
);
CREATE INDEX Quz570Rcv_RcvMdt ON Quz570Rcv (RcvMdt, RcvLfn);

CREATE TABLE Quz571Rvs (
  RvsMdt timestamp(0),
  RvsMzt timestamp(0),
  RvsLfn integer,
  RvsVkz varchar(3),
  RvsVdt timestamp(0),
  RvsDta varchar(512),
  RvsEsb varchar(8)
);
CREATE INDEX Quz571Rvs_RvsMzt ON Quz571Rvs (RvsMzt);
