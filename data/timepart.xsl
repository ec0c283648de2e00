<?xml version="1.0" encoding="UTF-8"?>
<!--
  Turns a timewise MusicXML score (measures holding parts) into a partwise one
  (parts holding measures), the form the score readers walk.

  The header (work, movement, identification, defaults, credits, part list) is
  copied as it stands. Every score-part of the part list becomes one part, in
  the part list's order, holding one measure per measure of the score with the
  measure's attributes and that part's contents of it. Parts that the measures
  carry but the part list does not declare are kept too (after the declared
  ones), so that the reader sees them and can report them.

  Any other root gives an empty result.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>
  <xsl:strip-space elements="*"/>

  <!-- The contents of one part in one measure. -->
  <xsl:key name="cell" match="/score-timewise/measure/part" use="concat(generate-id(..), '#', @id)"/>
  <!-- Every part of every measure, by id: the first of each id stands for it. -->
  <xsl:key name="by-id" match="/score-timewise/measure/part" use="@id"/>

  <xsl:template match="/">
    <xsl:apply-templates select="score-timewise"/>
  </xsl:template>

  <xsl:template match="score-timewise">
    <score-partwise>
      <xsl:copy-of select="@*"/>
      <xsl:copy-of select="node()[not(self::measure)]"/>
      <xsl:for-each select="part-list/score-part">
        <xsl:call-template name="part">
          <xsl:with-param name="id" select="string(@id)"/>
        </xsl:call-template>
      </xsl:for-each>
      <xsl:for-each select="measure/part[generate-id() = generate-id(key('by-id', @id)[1])]">
        <xsl:if test="not(/score-timewise/part-list/score-part[@id = current()/@id])">
          <xsl:call-template name="part">
            <xsl:with-param name="id" select="string(@id)"/>
          </xsl:call-template>
        </xsl:if>
      </xsl:for-each>
    </score-partwise>
  </xsl:template>

  <xsl:template name="part">
    <xsl:param name="id"/>
    <part id="{$id}">
      <xsl:for-each select="/score-timewise/measure">
        <measure>
          <xsl:copy-of select="@*"/>
          <xsl:copy-of select="key('cell', concat(generate-id(), '#', $id))/node()"/>
        </measure>
      </xsl:for-each>
    </part>
  </xsl:template>
</xsl:stylesheet>
